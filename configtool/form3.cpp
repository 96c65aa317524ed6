#include "configtool/form3.h"

#include "configtool/resources.h"
#include "configtool/twips.h"
#include "configtool/vb_list_box.h"
#include "shared/error_text.h"
#include "shared/failure.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFocusEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QToolButton>

namespace corvale::tool {

namespace st = statements;

namespace {

constexpr int kDesignWidth = 5670;
constexpr int kDesignHeight = 6375;
constexpr int kOuterWidth = 5910;
constexpr int kOuterHeight = 6760;
// The part of the form's width that is not List2's, Text2's or Text3's.
constexpr int kWidthBesideLists = 1680;
// Below this the lists keep a width they can still be used with.
constexpr int kSmallestListWidth = 600;

template <typename Widget>
Widget* place(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* widget = new Widget(parent);
    widget->setObjectName(name);
    widget->setGeometry(pixelRect(left, top, width, height));
    return widget;
}

QPushButton* button(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                    int height, bool enabled) {
    auto* created = place<QPushButton>(parent, name, left, top, width, height);
    created->setText(caption);
    created->setEnabled(enabled);
    return created;
}

QToolButton* pictureButton(QWidget* parent, const char* name, const char* caption, const QIcon& picture,
                           int left, int top, bool enabled) {
    auto* created = place<QToolButton>(parent, name, left, top, 1092, 660);
    created->setText(caption);
    created->setIcon(picture);
    created->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    created->setEnabled(enabled);
    return created;
}

QLabel* label(QWidget* parent, const char* name, const char* caption, int left, int top, int width) {
    auto* created = place<QLabel>(parent, name, left, top, width, 252);
    created->setText(caption);
    created->setAlignment(Qt::AlignRight | Qt::AlignTop);
    return created;
}

// Sets a text box's text; as with a change by the user, its change handling
// runs only when the text really changes.
void setText(QLineEdit* box, const QString& text) {
    if (box->text() != text) {
        box->setText(text);
    }
}

} // namespace

Form3::Form3(ConnectionState& connection, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), m_connection(connection), m_dialogs(dialogs) {
    loadResources();
    setObjectName("Form3");
    // The design's sizes were made for a small dialog font.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    setWindowTitle("Startup Configuration");
    setWindowIcon(QIcon(":/corvale.png"));
    resize(pixels(kDesignWidth), pixels(kDesignHeight));
    buildControls();
    connectHandlers();
}

void Form3::buildControls() {
    const QIcon folder(":/folder.png");
    List1 = place<VbListBox>(this, "List1", 1320, 120, 1932, 1425);
    Text1 = place<QLineEdit>(this, "Text1", 3600, 120, 1932, 288);
    cmdAddIP = button(this, "cmdAddIP", "&Add IP", 4440, 480, 1092, 300, false);
    cmdUpdate = button(this, "cmdUpdate", "&Update IP", 4440, 950, 1092, 300, false);
    cmdDelIP = button(this, "cmdDelIP", "&Delete IP", 4440, 1420, 1092, 300, false);
    Check1 = place<QCheckBox>(this, "Check1", 1320, 1800, 1812, 252);
    Check1->setText("D&isconnected List");
    Check1->setToolTip("Startup list if no IP is detected.");
    cmdUp = button(this, "cmdUp", "M&ove Up", 120, 2880, 1092, 300, false);
    cmdDown = button(this, "cmdDown", "Mo&ve Down", 120, 3360, 1092, 300, false);
    List2 = place<VbListBox>(this, "List2", 1320, 2160, 4212, 2010);
    cmdTargetPath = pictureButton(this, "cmdTargetPath", "&Target App", folder, 1320, 4380, true);
    cmdStartIn = pictureButton(this, "cmdStartIn", "&Start-in Path", folder, 2880, 4380, true);
    cmdStartIn->setToolTip("Optional; required only if different from the Target Path.");
    cmdTestStart =
        pictureButton(this, "cmdTestStart", "T&est Start", QIcon(":/corvale.png"), 4440, 4380, false);
    Text2 = place<QLineEdit>(this, "Text2", 1320, 5160, 4212, 288);
    Text3 = place<QLineEdit>(this, "Text3", 1320, 5520, 4212, 288);
    cmdAddPath = button(this, "cmdAddPath", "Add &Path", 1320, 5880, 972, 300, false);
    cmdUpdateList = button(this, "cmdUpdateList", "Upda&te", 2400, 5880, 972, 300, false);
    cmdDelListItem = button(this, "cmdDelListItem", "&Delete", 3480, 5880, 972, 300, false);
    cmdClose = button(this, "cmdClose", "&Close", 4560, 5880, 972, 300, true);

    Label1 = label(this, "Label1", "IP Address:", 300, 120, 972);
    Label2 = label(this, "Label2", "Startup List:", 300, 2160, 972);
    Label3 = label(this, "Label3", "Target Path:", 180, 5184, 1092);
    Label5 = label(this, "Label5", "Start-in Path:", 180, 5544, 1092);

    const QList<QWidget*> tabOrder = {List1, Text1,   cmdAddIP,   cmdUpdate,     cmdDelIP,       Check1,
                                      cmdUp, cmdDown, List2,      cmdTargetPath, cmdStartIn,     cmdTestStart,
                                      Text2, Text3,   cmdAddPath, cmdUpdateList, cmdDelListItem, cmdClose};
    for (qsizetype i = 0; i + 1 < tabOrder.size(); ++i) {
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    }
    for (QWidget* control : tabOrder) {
        control->installEventFilter(this);
    }
}

void Form3::connectHandlers() {
    connect(List1, &VbListBox::userChanged, this, [this] { guarded([this] { List1_Click(); }); });
    connect(Text1, &QLineEdit::textChanged, this, [this] { Text1_Change(); });
    connect(Text1, &QLineEdit::returnPressed, this, [this] { guarded([this] { cmdAddIP_Click(); }); });
    connect(cmdAddIP, &QPushButton::clicked, this, [this] { guarded([this] { cmdAddIP_Click(); }); });
    connect(cmdUpdate, &QPushButton::clicked, this, [this] { guarded([this] { cmdUpdate_Click(); }); });
    connect(Check1, &QCheckBox::clicked, this, [this] { guarded([this] { Check1_Click(); }); });
    connect(List2, &VbListBox::userChanged, this, [this] { guarded([this] { List2_Click(); }); });
    connect(Text2, &QLineEdit::textChanged, this, [this] { Text2_Change(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { cmdClose_Click(); });
}

void Form3::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& failure) {
        m_dialogs.showMessage(
            {he(failure), kToolCaption, MessageButtons::Ok, MessageIcon::None, MessageAnswer::Ok});
    }
}

Database& Form3::db() {
    if (!m_connection.dbase) {
        throw Failure("No database is open: Corvale could not open corvale.mdb when it started. Please start "
                      "Corvale again to look for it.");
    }
    return *m_connection.dbase;
}

void Form3::notice(const QString& text) {
    m_dialogs.showMessage(
        {text.toStdString(), kToolCaption, MessageButtons::Ok, MessageIcon::None, MessageAnswer::Ok});
}

// ---- The form --------------------------------------------------------------

void Form3::Form_Load() {
    QWidget* frame = parentWidget() ? parentWidget() : this;
    frame->resize(pixels(kOuterWidth), pixels(kOuterHeight));
    if (QWidget* mainWindow = frame->window(); mainWindow != frame) {
        const int mainWidth = twips(mainWindow->frameGeometry().width());
        const int mainHeight = twips(mainWindow->frameGeometry().height());
        frame->move(pixels((mainWidth - kOuterWidth) / 2 - 100),
                    pixels((mainHeight - kOuterHeight) / 2 - 400));
    }
    const bool anyAddress = db().openRecordset(st::allAddresses()).recordCount() > 0;
    if (anyAddress) {
        loadIPs();
        setList1Selected(0, true);
        cmdUpdate->setEnabled(true);
        cmdDelIP->setEnabled(true);
    } else {
        m_currentIPIndex = -1;
    }
    loadConnectedList();
}

void Form3::Form_Activate() {
    if (List1->count() == 0 && Text1->isEnabled()) {
        setText(Text1, "Enter new IP here");
        Text1->setFocus(Qt::OtherFocusReason);
        Text1_GotFocus(); // also when it had the focus already
    }
}

void Form3::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form3::Form_Resize() {
    const QWidget* frame = parentWidget() ? parentWidget() : this;
    const int width = std::max(twips(frame->width()) - kWidthBesideLists, kSmallestListWidth);
    for (QWidget* control :
         {static_cast<QWidget*>(List2), static_cast<QWidget*>(Text2), static_cast<QWidget*>(Text3)}) {
        control->resize(pixels(width), control->height());
    }
}

bool Form3::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyRelease:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            cmdClose_Click();
            return true;
        }
        break;
    case QEvent::FocusIn:
        if (watched == Text1) {
            Text1_GotFocus();
        }
        break;
    case QEvent::FocusOut: {
        // Focus that leaves for another window (a message box) has not left
        // the control within the form.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (watched == List2 && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            List2_LostFocus();
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form3::cmdClose_Click() {
    if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        frame->close();
    } else {
        close();
    }
}

void Form3::Check1_Click() {
    if (Check1->isChecked()) {
        unselectIPs();
        List1->setEnabled(false);
        Text1->setEnabled(false);
        setText(Text1, "");
        List2->clearEntries();
        cmdAddIP->setEnabled(false);
        cmdUpdate->setEnabled(false);
        cmdDelIP->setEnabled(false);
        loadDisconnectedList();
    } else {
        List1->setEnabled(true);
        Text1->setEnabled(true);
        List2->clearEntries();
        cmdAddIP->setEnabled(true);
        cmdUpdate->setEnabled(true);
        cmdDelIP->setEnabled(true);
    }
}

void Form3::selectIP(const QString& text) {
    for (int row = 0; row < List1->count(); ++row) {
        setList1Selected(row, false);
    }
    for (int row = 0; row < List1->count(); ++row) {
        if (List1->item(row)->text() == text) {
            setList1Selected(row, true);
            break;
        }
    }
}

void Form3::unselectIPs() {
    for (int row = 0; row < List1->count(); ++row) {
        setList1Selected(row, false);
    }
}

void Form3::unselectListItems() {
    for (int row = 0; row < List2->count(); ++row) {
        if (List2->setSelectedFromCode(row, false)) {
            List2_Click();
        }
    }
}

void Form3::setList1Selected(int row, bool selected) {
    if (List1->setSelectedFromCode(row, selected)) {
        List1_Click();
    }
}

void Form3::setList1Current(int row) {
    if (List1->setCurrentFromCode(row)) {
        List1_Click();
    }
}

void Form3::setList2Current(int row) {
    if (List2->setCurrentFromCode(row)) {
        List2_Click();
    }
}

// ---- Address list ------------------------------------------------------------

void Form3::loadIPs() {
    Recordset rows = db().openRecordset(st::allAddresses());
    List1->clearEntries();
    for (; !rows.eof(); rows.moveNext()) {
        List1->addEntry(QString::fromStdString(rows.field("IPaddress").text()),
                        static_cast<qint32>(rows.field("IPID").number()));
    }
    List1->markFirstAsCurrent();
}

void Form3::List1_Click() {
    const int selected = List1->selectedCount();
    const int current = List1->currentRow();
    if (selected != 0 && List1->isRowSelected(current)) {
        loadConnectedList();
        if (selected > 1) {
            setText(Text1, "");
            cmdUpdate->setEnabled(false);
        } else {
            const int first = List1->firstSelected();
            setText(Text1, List1->item(first)->text());
            setList1Current(first);
            cmdUpdate->setEnabled(true);
        }
    } else {
        List2->clearEntries();
        setText(Text1, "");
        setText(Text2, "");
        setText(Text3, "");
        if (List1->selectedCount() == 1) {
            setList1Current(List1->firstSelected());
        }
    }
}

void Form3::Text1_Change() {
    if (Text1->text().isEmpty()) {
        cmdAddIP->setEnabled(false);
        cmdUpdate->setEnabled(false);
        return;
    }
    const int selected = List1->selectedCount();
    cmdAddIP->setEnabled(true);
    if (selected >= 1) {
        cmdDelIP->setEnabled(true);
    }
    if (selected == 1) {
        cmdUpdate->setEnabled(true);
    }
}

void Form3::Text1_GotFocus() {
    Text1->selectAll();
}

void Form3::cmdAddIP_Click() {
    if (Text1->text().isEmpty()) {
        notice("Please enter an IP, then click the Add IP button.");
        Text1->setFocus(Qt::OtherFocusReason);
        return;
    }
    saveIP("New");
    cmdUpdate->setEnabled(true);
    cmdDelIP->setEnabled(true);
}

void Form3::cmdUpdate_Click() {
    const int selected = List1->selectedCount();
    if (selected >= 2) {
        notice("Only one IP (at a time) can be updated.");
        List1->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (selected == 0) {
        notice("Please select an IP to update.");
        List1->setFocus(Qt::OtherFocusReason);
        return;
    }
    saveIP("Update");
}

void Form3::saveIP(const QString& mode) {
    const std::string text = Text1->text().toStdString();
    const bool isNew = mode == "New";
    const std::int64_t id = List1->itemData(List1->currentRow());
    const Query duplicate = isNew ? st::addressId(text) : st::otherAddressId(id, text);
    if (db().openRecordset(duplicate).recordCount() > 0) {
        notice("The IP is already on file.");
        Text1->selectAll();
        Text1->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (isNew) {
        db().execute(st::insertAddress(text));
        List1->addEntry(Text1->text(), static_cast<qint32>(db().lastInsertId()));
        Text1->selectAll();
        selectIP(QString::fromStdString(text));
        Text1->setFocus(Qt::OtherFocusReason);
    } else {
        m_currentIPIndex = List1->currentRow();
        db().execute(st::renameAddress(id, text));
        loadIPs();
        loadConnectedList();
        selectIP(QString::fromStdString(text));
        List1->setFocus(Qt::OtherFocusReason);
    }
}

// ---- Startup list --------------------------------------------------------------

st::ListTable Form3::shownTable() const {
    return Check1->isChecked() ? st::ListTable::Disconnected : st::ListTable::Connected;
}

void Form3::fillList2(const Query& query) {
    Recordset rows = db().openRecordset(query);
    for (; !rows.eof(); rows.moveNext()) {
        List2->addEntry(QString::fromStdString(rows.field("targetPath").text()),
                        static_cast<qint32>(rows.field("ListID").number()));
    }
    List2->markFirstAsCurrent();
}

// The first steps of both loads: an empty list, empty item fields, and
// nothing selected to update, delete or move.
void Form3::emptyStartupList() {
    List2->clearEntries();
    setText(Text2, "");
    setText(Text3, "");
    cmdUpdateList->setEnabled(false);
    cmdDelListItem->setEnabled(false);
    cmdUp->setEnabled(false);
    cmdDown->setEnabled(false);
}

void Form3::loadConnectedList() {
    emptyStartupList();
    if (List1->currentRow() != -1) {
        m_currentIPIndex = List1->currentRow();
    }
    if (List1->count() > 0 && m_currentIPIndex != -1 && List1->currentRow() != -1) {
        fillList2(st::connectedItems(List1->itemData(List1->currentRow())));
    }
}

void Form3::loadDisconnectedList() {
    emptyStartupList();
    fillList2(st::disconnectedItems());
}

void Form3::List2_Click() {
    const int selected = List2->selectedCount();
    if (selected == 0) {
        cmdUp->setEnabled(false);
        cmdDown->setEnabled(false);
        setText(Text2, "");
        setText(Text3, "");
        cmdUpdateList->setEnabled(false);
        cmdDelListItem->setEnabled(false);
        return;
    }
    if (selected >= 2) {
        setText(Text2, "");
        setText(Text3, "");
        cmdAddPath->setEnabled(false);
        cmdUp->setEnabled(false);
        cmdDown->setEnabled(false);
        cmdUpdateList->setEnabled(false);
        cmdDelListItem->setEnabled(true);
        return;
    }
    const int first = List2->firstSelected();
    setText(Text2, List2->item(first)->text());
    // The start-in folder of this very row: looked up by its key, not by its
    // target, which other rows may share.
    Recordset row = db().openRecordset(st::startInOfItem(shownTable(), List2->itemData(first)));
    if (row.recordCount() > 0 && !row.field("startInPath").isNull()) {
        setText(Text3, QString::fromStdString(row.field("startInPath").text()));
    }
    setList2Current(first);
    cmdAddPath->setEnabled(true);
    cmdUpdateList->setEnabled(true);
    const int position = List2->currentRow();
    const int count = List2->count();
    if (position == 0) {
        cmdUp->setEnabled(false);
        cmdDown->setEnabled(count > 1);
    } else {
        cmdUp->setEnabled(true);
        cmdDown->setEnabled(position != count - 1);
    }
    cmdDelListItem->setEnabled(true);
}

void Form3::List2_LostFocus() {
    if (List2->selectedCount() == 0) {
        cmdUp->setEnabled(false);
        cmdDown->setEnabled(false);
    }
}

void Form3::Text2_Change() {
    if (Text2->text().isEmpty()) {
        cmdAddPath->setEnabled(false);
        cmdUpdateList->setEnabled(false);
        cmdTestStart->setEnabled(false);
        return;
    }
    const int selected = List2->selectedCount();
    cmdAddPath->setEnabled(true);
    if (selected == 1) {
        cmdUpdateList->setEnabled(true);
    }
    if (selected >= 1) {
        cmdDelListItem->setEnabled(true);
    }
    cmdTestStart->setEnabled(true);
}

} // namespace corvale::tool
