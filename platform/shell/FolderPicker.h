// The "choose a folder" question behind SHBrowseForFolderA.
//
// A picker asks the user modally, on the calling (user-interface) thread, and answers with the
// chosen folder as a Linux path or with nothing when the user cancelled. The GTK presenter
// installs a file chooser; tests install the headless picker and script its answers. With no
// picker installed every question is answered with nothing.
#pragma once

#include "platform/user/WinUser.h"

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace afxshell {

struct FolderQuestion {
    HWND hOwner = nullptr;
    std::string title; // ANSI code page
    UINT flags = 0;    // the BIF_ flags the program asked with
    std::string start; // the folder to open on, a Linux path; "" for the picker's own choice
};

class IFolderPicker {
public:
    virtual ~IFolderPicker() = default;
    // The chosen folder as a Linux path (UTF-8), or nothing for a cancelled question.
    virtual std::optional<std::string> ChooseFolder(const FolderQuestion& question) = 0;
};

// Installs picker (null: none, the default) and returns the one it replaces. The caller keeps
// ownership.
IFolderPicker* SetFolderPicker(IFolderPicker* picker);
IFolderPicker* CurrentFolderPicker();

// Answers with scripted answers in order and keeps the questions; cancels once they run out.
class HeadlessFolderPicker : public IFolderPicker {
public:
    // The next answer: a Linux path, or nothing for a cancel.
    void Script(std::optional<std::string> answer);
    std::vector<FolderQuestion> Questions() const;

    std::optional<std::string> ChooseFolder(const FolderQuestion& question) override;

private:
    mutable std::mutex m_mutex;
    std::deque<std::optional<std::string>> m_answers;
    std::vector<FolderQuestion> m_questions;
};

} // namespace afxshell
