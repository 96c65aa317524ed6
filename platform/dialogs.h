#pragma once

#include <optional>
#include <string>

namespace corvale {

enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageIcon { None, Information, Question };
// The answers keep fixed numbers (1 OK, 2 Cancel, 6 Yes, 7 No): they cross
// the window module's C interface as these.
enum class MessageAnswer { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

struct MessageRequest {
    std::string text;
    std::string caption;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    MessageAnswer defaultButton = MessageAnswer::Ok;
};

struct OpenFileRequest {
    // Label and pattern pairs: "Label (*.x)|*.x|All Files (*.*)|*.*".
    std::string filter;
    std::string title;
    std::string folder; // where the dialog opens; empty: where it likes
};

struct TextRequest {
    std::string prompt;
    std::string caption;
    std::string text; // the text offered, to keep or change
};

// Everything a person answers. The programs ask through this service only, so
// that tests can answer in a person's place.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A modal message box; returns the button chosen.
    virtual MessageAnswer showMessage(const MessageRequest& request) = 0;
    // A modal file-open dialog; returns the chosen file's full path, or an
    // empty text when the dialog was cancelled.
    virtual std::string openFile(const OpenFileRequest& request) = 0;
    // A modal folder chooser that opens in folder (when given); returns the
    // chosen folder, or an empty text.
    virtual std::string chooseFolder(const std::string& title, const std::string& folder) = 0;
    // A small modal dialog asking for one line of text; nothing when it was
    // cancelled. Dialogs that cannot show windows answer as cancelled.
    virtual std::optional<std::string> askText(const TextRequest& request) {
        (void)request;
        return std::nullopt;
    }
};

} // namespace corvale
