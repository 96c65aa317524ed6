#include "configtool/form3.h"

#include "configtool/entry_warnings.h"
#include "configtool/form3_text.h"
#include "configtool/resources.h"
#include "configtool/stored_text.h"
#include "configtool/twips.h"
#include "configtool/vb_list_box.h"
#include "platform/failure.h"
#include "shared/error_text.h"

#include <QAction>
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
#include <limits>
#include <utility>

namespace corvale::tool {

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
Widget* place(QWidget* parent, const Twips& design, const char* name, int left, int top, int width,
              int height) {
    auto* widget = new Widget(parent);
    widget->setObjectName(name);
    widget->setGeometry(design.rect(left, top, width, height));
    return widget;
}

// Where the font here is wider than the design's, a control grows until its
// text is drawn whole: to the right, or on both sides for one whose text is
// centred.
void growToText(QWidget* control, int needed, bool centred) {
    if (needed <= control->width()) {
        return;
    }
    const QRect box = control->geometry();
    const int left = centred ? box.left() - (needed - box.width()) / 2 : box.left();
    control->setGeometry(left, box.top(), needed, box.height());
}

QPushButton* button(QWidget* parent, const Twips& design, const char* name, const char* caption, int left,
                    int top, int width, int height, bool enabled) {
    auto* created = place<QPushButton>(parent, design, name, left, top, width, height);
    created->setText(caption);
    created->setEnabled(enabled);
    // Enter presses the button that has the focus, as on any desktop.
    created->setAutoDefault(true);
    return created;
}

QToolButton* pictureButton(QWidget* parent, const Twips& design, const char* name, const char* caption,
                           const QIcon& picture, int left, int top, bool enabled) {
    auto* created = place<QToolButton>(parent, design, name, left, top, 1092, 660);
    created->setText(caption);
    created->setIcon(picture);
    created->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    created->setEnabled(enabled);
    QString text = created->text();
    growToText(created, created->fontMetrics().horizontalAdvance(text.remove(u'&')) + 8, true);
    return created;
}

// A caption right-aligned to its field. Where the font is wider than the
// design's (a larger font, or one a style sheet sets when the label is
// polished), it grows to the left, into the margin, so that its text is drawn
// whole.
class FieldLabel : public QLabel {
public:
    FieldLabel(QWidget* parent, const QRect& design) : QLabel(parent), m_design(design) {
        setGeometry(design);
    }

protected:
    bool event(QEvent* event) override {
        const bool handled = QLabel::event(event);
        if (event->type() == QEvent::Polish || event->type() == QEvent::FontChange ||
            event->type() == QEvent::StyleChange) {
            fit();
        }
        return handled;
    }

private:
    void fit() {
        QRect box = m_design;
        const QSize needed = sizeHint();
        if (needed.width() > box.width()) {
            box.setLeft(box.right() + 1 - needed.width());
        }
        box.setHeight(std::max(box.height(), needed.height()));
        setGeometry(box);
    }

    QRect m_design;
};

QLabel* label(QWidget* parent, const Twips& design, const char* name, const char* caption, int left, int top,
              int width) {
    auto* created = new FieldLabel(parent, design.rect(left, top, width, 252));
    created->setObjectName(name);
    created->setText(caption);
    created->setAlignment(Qt::AlignRight | Qt::AlignTop);
    created->ensurePolished();
    return created;
}

} // namespace

Form3::Form3(ConnectionState& connection, Dialogs& dialogs, std::string programFolder, QWidget* parent)
    : QWidget(parent), m_connection(connection), m_dialogs(dialogs),
      m_programFolder(std::move(programFolder)) {
    loadResources();
    setObjectName("Form3");
    // The design's sizes were made for a small dialog font; a larger one here
    // makes the whole form grow with it.
    QFont small = font();
    small.setPointSizeF(Twips::kDesignFontPoints);
    setFont(small);
    m_twips = Twips::forFont(small);
    setWindowTitle("Startup Configuration");
    setWindowIcon(QIcon(":/corvale.png"));
    resize(m_twips.pixels(kDesignWidth), m_twips.pixels(kDesignHeight));
    buildControls();
    connectHandlers();
}

void Form3::buildControls() {
    const QIcon folder(":/folder.png");
    List1 = place<VbListBox>(this, m_twips, "List1", 1320, 120, 1932, 1425);
    Text1 = place<QLineEdit>(this, m_twips, "Text1", 3600, 120, 1932, 288);
    cmdAddIP = button(this, m_twips, "cmdAddIP", "&Add IP", 4440, 480, 1092, 300, false);
    cmdUpdate = button(this, m_twips, "cmdUpdate", "&Update IP", 4440, 950, 1092, 300, false);
    cmdDelIP = button(this, m_twips, "cmdDelIP", "&Delete IP", 4440, 1420, 1092, 300, false);
    Check1 = place<QCheckBox>(this, m_twips, "Check1", 1320, 1800, 1812, 252);
    Check1->setText("D&isconnected List");
    growToText(Check1, Check1->sizeHint().width(), false);
    Check1->setToolTip("Startup list if no IP is detected.");
    cmdUp = button(this, m_twips, "cmdUp", "M&ove Up", 120, 2880, 1092, 300, false);
    cmdDown = button(this, m_twips, "cmdDown", "Mo&ve Down", 120, 3360, 1092, 300, false);
    List2 = place<VbListBox>(this, m_twips, "List2", 1320, 2160, 4212, 2010);
    cmdTargetPath = pictureButton(this, m_twips, "cmdTargetPath", "&Target App", folder, 1320, 4380, true);
    cmdStartIn = pictureButton(this, m_twips, "cmdStartIn", "&Start-in Path", folder, 2880, 4380, true);
    cmdStartIn->setToolTip("Optional; required only if different from the Target Path.");
    cmdTestStart = pictureButton(this, m_twips, "cmdTestStart", "T&est Start", QIcon(":/corvale.png"), 4440,
                                 4380, false);
    Text2 = place<QLineEdit>(this, m_twips, "Text2", 1320, 5160, 4212, 288);
    Text3 = place<QLineEdit>(this, m_twips, "Text3", 1320, 5520, 4212, 288);
    // A path as long as the file holds it: a box that cut it at its default
    // length would write it back cut.
    for (QLineEdit* box : {Text1, Text2, Text3}) {
        box->setMaxLength(std::numeric_limits<int>::max());
    }
    // Beside the path boxes, below their captions, on the row of the buttons
    // that save them.
    chkStopOnLeave = place<QCheckBox>(this, m_twips, "chkStopOnLeave", 120, 5850, 1150, 450);
    chkStopOnLeave->setText("Stop on\n&leaving");
    chkStopOnLeave->setToolTip(QString("Stop on leaving: ") + kStopOnLeaveMeaning + ".");
    // When the item runs, in the column beside the path boxes, above Stop
    // on leaving: ticked, on leaving; else on arrival.
    chkOnLeaving = place<QCheckBox>(this, m_twips, "chkOnLeaving", 120, 4620, 1150, 450);
    chkOnLeaving->setText("Run on\nleavin&g");
    chkOnLeaving->setToolTip("Run on leaving: a watcher runs the item when the laptop leaves this network, "
                             "and waits for it up to 10 seconds before the next list starts. Unticked, "
                             "it starts on arrival.");
    cmdAddPath = button(this, m_twips, "cmdAddPath", "Add &Path", 1320, 5880, 972, 300, false);
    cmdUpdateList = button(this, m_twips, "cmdUpdateList", "Upda&te", 2400, 5880, 972, 300, false);
    cmdDelListItem = button(this, m_twips, "cmdDelListItem", "&Delete", 3480, 5880, 972, 300, false);
    cmdClose = button(this, m_twips, "cmdClose", "&Close", 4560, 5880, 972, 300, true);

    Label1 = label(this, m_twips, "Label1", "IP Address:", 300, 120, 972);
    Label2 = label(this, m_twips, "Label2", "Startup List:", 300, 2160, 972);
    Label3 = label(this, m_twips, "Label3", "Target Path:", 180, 5184, 1092);
    Label5 = label(this, m_twips, "Label5", "Start-in Path:", 180, 5544, 1092);

    List1->markWarnings([this](const QString& entry) {
        // A named entry shows its name; its text is its entry.
        const auto nameOf = [this](int row) {
            return List1->item(row)->text() == List1->entryText(row) ? QString() : List1->item(row)->text();
        };
        QString name;
        for (int row = 0; row < List1->count(); ++row) {
            if (List1->entryText(row) == entry) {
                name = nameOf(row);
            }
        }
        if (!m_sameNetworks) {
            std::vector<std::string> entries;
            entries.reserve(static_cast<std::size_t>(List1->count()));
            for (int row = 0; row < List1->count(); ++row) {
                entries.push_back(storedText(List1->entryText(row)));
            }
            m_sameNetworks.emplace(entries);
        }
        return addressEntryWarning(
            entry, name,
            [this, &nameOf] {
                ShownEntries shown;
                for (int row = 0; row < List1->count(); ++row) {
                    shown.entries << List1->entryText(row);
                    shown.names << nameOf(row);
                }
                return shown;
            },
            *m_sameNetworks);
    });
    List2->markWarnings([programFolder = m_programFolder](
                            const QString& target) { return targetWarning(target, programFolder); },
                        VbListBox::Judged::OffMainThread);

    // A screen reader names each list and field by the label before it.
    List1->setAccessibleName("IP Address");
    Text1->setAccessibleName("IP Address");
    Text1->setAccessibleDescription("The address to add, or to put in place of the selected one");
    List2->setAccessibleName("Startup List");
    Text2->setAccessibleName("Target Path");
    Text3->setAccessibleName("Start-in Path");
    chkStopOnLeave->setAccessibleName("Stop on leaving");
    chkOnLeaving->setAccessibleName("Run on leaving");
    Label1->setBuddy(List1);
    Label2->setBuddy(List2);
    Label3->setBuddy(Text2);
    Label5->setBuddy(Text3);

    const QList<QWidget*> tabOrder = {
        List1,        Text1,          cmdAddIP,      cmdUpdate,     cmdDelIP,       Check1,  cmdUp,
        cmdDown,      List2,          cmdTargetPath, cmdStartIn,    cmdTestStart,   Text2,   Text3,
        chkOnLeaving, chkStopOnLeave, cmdAddPath,    cmdUpdateList, cmdDelListItem, cmdClose};
    for (qsizetype i = 0; i + 1 < tabOrder.size(); ++i) {
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    }
    for (QWidget* control : tabOrder) {
        control->installEventFilter(this);
    }

    auto* name = new QAction("&Name...", List1);
    name->setObjectName("menuNameIP");
    name->setShortcut(Qt::Key_F2);
    name->setShortcutContext(Qt::WidgetShortcut);
    List1->addAction(name);
    List1->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(name, &QAction::triggered, this, [this] { guarded([this] { nameIP(); }); });
}

void Form3::clearItemFields() {
    setText(Text2, "");
    setText(Text3, "");
    chkStopOnLeave->setChecked(false);
    chkOnLeaving->setChecked(false);
    chkOnLeaving_Click();
}

void Form3::chkOnLeaving_Click() {
    const bool leaving = chkOnLeaving->isChecked();
    if (leaving) {
        chkStopOnLeave->setChecked(false);
    }
    chkStopOnLeave->setEnabled(!leaving);
}

void Form3::connectHandlers() {
    connect(List1, &VbListBox::userChanged, this, [this] { guarded([this] { List1_Click(); }); });
    connect(Text1, &QLineEdit::textChanged, this, [this] { Text1_Change(); });
    // What the user types in the start-in box is the user's own.
    connect(Text3, &QLineEdit::textEdited, this, [this] { m_filledStartIn.reset(); });
    connect(Text1, &QLineEdit::returnPressed, this, [this] { guarded([this] { cmdAddIP_Click(); }); });
    connect(cmdAddIP, &QPushButton::clicked, this, [this] { guarded([this] { cmdAddIP_Click(); }); });
    connect(cmdUpdate, &QPushButton::clicked, this, [this] { guarded([this] { cmdUpdate_Click(); }); });
    connect(Check1, &QCheckBox::clicked, this, [this] { guarded([this] { Check1_Click(); }); });
    connect(cmdDelIP, &QPushButton::clicked, this, [this] { guarded([this] { cmdDelIP_Click(); }); });
    connect(List2, &VbListBox::userChanged, this, [this] {
        m_markOfAddedItem = false; // the box shows the selected item's own mark
        guarded([this] { List2_Click(); });
    });
    connect(Text2, &QLineEdit::textChanged, this, [this] { Text2_Change(); });
    connect(Text2, &QLineEdit::textEdited, this, [this] {
        if (std::exchange(m_markOfAddedItem, false)) {
            chkStopOnLeave->setChecked(false);
        }
    });
    connect(chkStopOnLeave, &QCheckBox::clicked, this, [this] { m_markOfAddedItem = false; });
    connect(chkOnLeaving, &QCheckBox::clicked, this, [this] {
        m_markOfAddedItem = false;
        chkOnLeaving_Click();
    });
    connect(Text2, &QLineEdit::returnPressed, this, [this] { guarded([this] { cmdAddPath_Click(); }); });
    connect(cmdAddPath, &QPushButton::clicked, this, [this] { guarded([this] { cmdAddPath_Click(); }); });
    connect(cmdUpdateList, &QPushButton::clicked, this,
            [this] { guarded([this] { cmdUpdateList_Click(); }); });
    connect(cmdUp, &QPushButton::clicked, this, [this] { guarded([this] { cmdUp_Click(); }); });
    connect(cmdDown, &QPushButton::clicked, this, [this] { guarded([this] { cmdDown_Click(); }); });
    connect(cmdDelListItem, &QPushButton::clicked, this,
            [this] { guarded([this] { cmdDelListItem_Click(); }); });
    connect(cmdTargetPath, &QToolButton::clicked, this,
            [this] { guarded([this] { cmdTargetPath_Click(); }); });
    connect(cmdStartIn, &QToolButton::clicked, this, [this] { guarded([this] { cmdStartIn_Click(); }); });
    connect(cmdTestStart, &QToolButton::clicked, this, [this] { guarded([this] { cmdTestStart_Click(); }); });
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

bool Form3::confirmed(const QString& text) {
    return m_dialogs.showMessage({text.toStdString(), kToolCaption, MessageButtons::YesNo,
                                  MessageIcon::Question, MessageAnswer::No}) == MessageAnswer::Yes;
}

// ---- The form --------------------------------------------------------------

void Form3::Form_Load() {
    QWidget* frame = parentWidget() ? parentWidget() : this;
    frame->resize(m_twips.pixels(kOuterWidth), m_twips.pixels(kOuterHeight));
    if (QWidget* mainWindow = frame->window(); mainWindow != frame) {
        const int mainWidth = m_twips.twips(mainWindow->frameGeometry().width());
        const int mainHeight = m_twips.twips(mainWindow->frameGeometry().height());
        // A form larger than the window starts at its top left corner, so
        // that its caption stays in reach of the scroll bars.
        frame->move(std::max(0, m_twips.pixels((mainWidth - kOuterWidth) / 2 - 100)),
                    std::max(0, m_twips.pixels((mainHeight - kOuterHeight) / 2 - 400)));
    }
    lists().removeStaleRows();
    const bool anyAddress = lists().anyAddress();
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
    const int width = std::max(m_twips.twips(frame->width()) - kWidthBesideLists, kSmallestListWidth);
    for (QWidget* control :
         {static_cast<QWidget*>(List2), static_cast<QWidget*>(Text2), static_cast<QWidget*>(Text3)}) {
        control->resize(m_twips.pixels(width), control->height());
    }
}

bool Form3::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            m_escapePressedHere = true;
        }
        // The picture buttons take Enter as the other buttons do.
        auto* pictureButton = qobject_cast<QToolButton*>(watched);
        if (pictureButton && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            pictureButton->click();
            return true;
        }
        // Delete in a list does what the list's Delete button does, when it may.
        if (key == Qt::Key_Delete) {
            QPushButton* deleteButton = watched == List1   ? cmdDelIP
                                        : watched == List2 ? cmdDelListItem
                                                           : nullptr;
            if (deleteButton) {
                if (deleteButton->isEnabled()) {
                    deleteButton->click();
                }
                return true;
            }
        }
        break;
    }
    case QEvent::KeyRelease:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            const bool pressedHere = std::exchange(m_escapePressedHere, false);
            if (pressedHere) {
                cmdClose_Click();
                return true;
            }
        }
        break;
    case QEvent::FocusIn:
        if (watched == Text1) {
            Text1_GotFocus();
        } else if (watched == Text2) {
            Text2_GotFocus();
        } else if (watched == Text3) {
            Text3_GotFocus();
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

std::optional<std::string> Form3::entryOfListShown() const {
    const int row = List1->currentRow();
    if (Check1->isChecked() || row < 0) {
        return std::nullopt;
    }
    return storedText(List1->entryText(row));
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
        clearStartupEntries();
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
        if (List1->entryText(row) == text) {
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
        setList2Selected(row, false);
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

void Form3::setList2Selected(int row, bool selected) {
    if (List2->setSelectedFromCode(row, selected)) {
        List2_Click();
    }
}

void Form3::clearStartupEntries() {
    List2->clearEntries();
    cmdUp->setEnabled(false);
    cmdDown->setEnabled(false);
    cmdUpdateList->setEnabled(false);
}

} // namespace corvale::tool
