#include "platform/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

namespace corvale::platform {

namespace {

QMessageBox::StandardButton toQt(MessageAnswer answer) {
    switch (answer) {
    case MessageAnswer::Ok:
        return QMessageBox::Ok;
    case MessageAnswer::Cancel:
        return QMessageBox::Cancel;
    case MessageAnswer::Yes:
        return QMessageBox::Yes;
    case MessageAnswer::No:
        return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButtons buttonsFor(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::Ok:
        return QMessageBox::Ok;
    case MessageButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon iconFor(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// The old dialogs' filter "Label (*.x)|*.x|All (*.*)|*.*" as Qt name filters.
// "*.*" stands for every file: many files here have no dot.
QStringList nameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        if (patterns == u"*.*") {
            patterns = QStringLiteral("*");
        }
        // Qt takes the patterns from the last parentheses and, with
        // HideNameFilterDetails, shows the label before them as it is worded.
        filters << parts[i] + QStringLiteral(" (") + patterns + u')';
    }
    return filters;
}

} // namespace

void resetQtPointer() {
    if (!QApplication::instance()) {
        return;
    }
    while (QApplication::overrideCursor()) {
        QApplication::restoreOverrideCursor();
    }
}

QtDialogs::QtDialogs(int& argc, char** argv) : m_argc(argc), m_argv(argv) {}

QtDialogs::~QtDialogs() = default;

void QtDialogs::ensureApplication() {
    if (QApplication::instance()) {
        return;
    }
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
}

void QtDialogs::processPendingEvents() {
    if (QApplication::instance()) {
        QApplication::processEvents();
    }
}

MessageAnswer QtDialogs::showMessage(const MessageRequest& request) {
    ensureApplication();
    QMessageBox box(iconFor(request.icon), QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), buttonsFor(request.buttons));
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(toQt(request.defaultButton));
    switch (box.exec()) {
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    default:
        // A box with OK only that is closed another way counts as OK; a box
        // with Cancel takes its close as Cancel (Qt reports its escape button).
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
}

std::string QtDialogs::openFile(const OpenFileRequest& request) {
    ensureApplication();
    QFileDialog dialog(nullptr, QString::fromStdString(request.title));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(nameFilters(request.filter));
    if (!request.folder.empty()) {
        dialog.setDirectory(QString::fromStdString(request.folder));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst().toStdString();
}

std::string QtDialogs::chooseFolder(const std::string& title, const std::string& folder) {
    ensureApplication();
    return QFileDialog::getExistingDirectory(nullptr, QString::fromStdString(title),
                                             QString::fromStdString(folder))
        .toStdString();
}

std::optional<std::string> QtDialogs::askText(const TextRequest& request) {
    ensureApplication();
    bool accepted = false;
    const QString text = QInputDialog::getText(nullptr, QString::fromStdString(request.caption),
                                               QString::fromStdString(request.prompt), QLineEdit::Normal,
                                               QString::fromStdString(request.text), &accepted);
    if (!accepted) {
        return std::nullopt;
    }
    return text.toStdString();
}

} // namespace corvale::platform
