// corvale: keeps the addresses and the startup lists that brisken runs.
#include "configtool/mdi_form1.h"
#include "platform/folders.h"
#include "platform/qt_dialogs.h"
#include "shared/error_text.h"

#include <QApplication>

int main(int argc, char** argv) {
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
