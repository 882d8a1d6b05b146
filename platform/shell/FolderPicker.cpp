#include "platform/shell/FolderPicker.h"

namespace afxshell {
namespace {

std::mutex g_mutex;
IFolderPicker* g_picker = nullptr;

} // namespace

IFolderPicker* SetFolderPicker(IFolderPicker* picker) {
    std::lock_guard<std::mutex> lock(g_mutex);
    IFolderPicker* old = g_picker;
    g_picker = picker;
    return old;
}

IFolderPicker* CurrentFolderPicker() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_picker;
}

void HeadlessFolderPicker::Script(std::optional<std::string> answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back(std::move(answer));
}

std::vector<FolderQuestion> HeadlessFolderPicker::Questions() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_questions;
}

std::optional<std::string> HeadlessFolderPicker::ChooseFolder(const FolderQuestion& question) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_questions.push_back(question);
    if (m_answers.empty())
        return std::nullopt;
    std::optional<std::string> a = std::move(m_answers.front());
    m_answers.pop_front();
    return a;
}

} // namespace afxshell
