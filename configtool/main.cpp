// corvale: keeps the addresses and the startup lists that brisken runs.
#include "configtool/lists_file.h"
#include "configtool/mdi_form1.h"
#include "platform/folders.h"
#include "platform/qt_dialogs.h"
#include "platform/qt_platform_choice.h"
#include "shared/error_text.h"

#include "shared/command_line.h"

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr const char* kUsage =
    "Usage: corvale [--help] [--version] [--export FILE | --import FILE] [Qt options]\n"
    "Keeps the network addresses and the startup lists that brisken runs at logon.\n"
    "\n"
    "  --export FILE  write every list to FILE (JSON), without a window\n"
    "  --import FILE  add the lists of FILE to the database, without a window\n"
    "  --help         print this text\n"
    "  --version      print the version\n";

// Whether the user named Qt's window platform on the command line.
bool platformGiven(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0 ||
            std::strncmp(argv[i], "-platform=", 10) == 0 || std::strncmp(argv[i], "--platform=", 11) == 0) {
            return true;
        }
    }
    return false;
}

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
    if (options.exportFile || options.importFile) {
        try {
            const std::string programFolder = corvale::platform::programFolder();
            return options.exportFile ? corvale::tool::exportLists(programFolder, *options.exportFile)
                                      : corvale::tool::importLists(programFolder, *options.importFile);
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "corvale: %s\n", failure.what());
            return 1;
        }
    }
    // Qt would abort with its own message where no display answers; a
    // platform named on the command line is the user's own choice.
    std::vector<std::string> arguments(argv, argv + argc);
    if (!platformGiven(argc, argv)) {
        std::string platforms;
        if (const std::string why = corvale::platform::chooseUsablePlatform(platforms); !why.empty()) {
            std::fprintf(stderr, "Cannot show windows: %s\n", why.c_str());
            return 1;
        }
        arguments.insert(arguments.begin() + 1, {"-platform", platforms});
    }
    std::vector<char*> pointers;
    pointers.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    int count = static_cast<int>(arguments.size());
    QApplication app(count, pointers.data());
    corvale::setPointerReset(corvale::platform::resetQtPointer);
    corvale::platform::QtDialogs dialogs(count, pointers.data());

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
