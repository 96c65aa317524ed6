// Filling the item fields by dialog, and trying the item out.
#include "configtool/form3.h"

#include "configtool/form3_text.h"
#include "configtool/item_paths.h"
#include "configtool/stored_text.h"
#include "configtool/vb_list_box.h"
#include "platform/file_answer.h"
#include "platform/process_start.h"
#include "shared/launcher.h"
#include "shared/run_place.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include <chrono>
#include <future>

namespace corvale::tool {

namespace {
// Whether the folder answers within the bound of the items' own look-ups
// (a mount whose server has gone never does). Asked off the window's
// thread: the window goes on drawing meanwhile.
bool folderAnswers(const std::string& folder) {
    std::future<bool> answer =
        std::async(std::launch::async, [folder] { return platform::filesAnswerWithin("/", folder, ""); });
    while (answer.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    return answer.get();
}

// Where a picker opens: the folder given, where it is one and answers in
// time, else the user's home (never the program folder the tool works in).
std::string folderOrHome(const QString& folder) {
    if (!folder.isEmpty() && !isNetworkPath(folder) && folderAnswers(storedText(folder)) &&
        QFileInfo(folder).isDir()) {
        return storedText(folder);
    }
    return storedText(QDir::homePath());
}
} // namespace

void Form3::cmdTargetPath_Click() {
    // The main window's one file dialog: the file must exist, and every file
    // is offered.
    const std::string chosen =
        m_dialogs.openFile({"All Files (*.*)|*.*", "", folderOrHome(folderOfTarget(Text2->text()))});
    if (chosen.empty()) {
        return;
    }
    setText(Text2, shownText(chosen));
    if (startInLeftToTheTarget()) {
        fillStartIn();
    }
}

void Form3::cmdStartIn_Click() {
    const std::string folder =
        m_dialogs.chooseFolder("Please select the Start In folder:", folderOrHome(Text3->text()));
    if (!folder.empty()) {
        setText(Text3, shownText(folder));
        m_filledStartIn.reset(); // the user's own choice
    }
}

void Form3::fillStartIn() {
    setText(Text3, defaultStartIn());
    m_filledStartIn = Text3->text();
}

bool Form3::startInLeftToTheTarget() const {
    return Text3->text().isEmpty() || (m_filledStartIn && Text3->text() == *m_filledStartIn);
}

QString Form3::defaultStartIn() const {
    return folderOfTarget(Text2->text());
}

void Form3::cmdTestStart_Click() {
    const std::string startIn = storedText(Text3->text());
    const std::string target = storedText(Text2->text());
    // The program learns the list it was tried for (BRISKEN_RUN "test"); it
    // is tried wherever the laptop is, so no address is handed on.
    RunPlace place;
    if (const int row = List1->currentRow(); !Check1->isChecked() && row >= 0) {
        place.entry = storedText(List1->entryText(row));
        place.place = storedText(List1->item(row)->text());
    }
    // The tool runs on, so the program is started through a process of its
    // own that ends at once: the tool never keeps a finished child.
    const LaunchResult result =
        execIt(startIn, target, 1, platform::ChildHandling::StarterKeepsRunning, m_programFolder,
               FilesAnswered::NotAsked, placeEnvironment(place, RunKind::Test));
    if (!launchSucceeded(result)) {
        notice("There was a problem starting the application.  Please verify the path and try again.");
        return;
    }
    if (result.startInMissing) {
        emit said(shownText(target + ": " + missingStartInNote(startIn, m_programFolder)));
    } else {
        emit said("Started " + shownText(target) + " in " + shownText(startIn));
    }
}

} // namespace corvale::tool
