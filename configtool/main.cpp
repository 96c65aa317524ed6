// corvale: keeps the addresses and the startup lists that brisken runs.
#include "configtool/mdi_form1.h"
#include "platform/folders.h"
#include "platform/qt_dialogs.h"
#include "shared/error_text.h"

#include "shared/command_line.h"

#include <QApplication>
#include <cstdio>

namespace {
constexpr const char* kUsage =
    "Usage: corvale [--help] [--version] [Qt options]\n"
    "Keeps the network addresses and the startup lists that brisken runs at logon.\n"
    "\n"
    "  --help     print this text\n"
    "  --version  print the version\n";
} // namespace

int main(int argc, char** argv) {
    const corvale::CommandLine options = corvale::readCommandLine(argc, argv, false);
    if (!options.error.empty()) {
        std::fprintf(stderr, "corvale: %s\n%s", options.error.c_str(), kUsage);
        return corvale::kExitUsage;
    }
    if (options.help || options.version) {
        options.help ? std::fputs(kUsage, stdout) : std::printf("corvale %s\n", CORVALE_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    corvale::setPointerReset(corvale::platform::resetQtPointer);
    corvale::platform::QtDialogs dialogs(argc, argv);

    std::string programFolder;
    try {
        programFolder = corvale::platform::programFolder();
    } catch (const std::exception& failure) {
        dialogs.showMessage({corvale::he(failure), corvale::tool::kToolCaption});
        return 1;
    }
    corvale::tool::MDIForm1 window(dialogs, programFolder, CORVALE_CONTACT_HOST);
    if (window.startUp() == corvale::tool::MDIForm1::StartUp::End) {
        return 2;
    }
    window.show();
    return app.exec();
}
