// Message boxes: recorded and answered by the test instead of a user.
#include <deque>

#include "double/internal.h"

namespace {
std::vector<scripted::MessageBoxRecord> g_boxes;
std::deque<int> g_answers;
std::function<int(const scripted::MessageBoxRecord&)> g_handler;
}  // namespace

namespace scripted {

namespace detail {
void ResetBoxes() {
  g_boxes.clear();
  g_answers.clear();
  g_handler = nullptr;
}
}  // namespace detail

const std::vector<MessageBoxRecord>& MessageBoxes() { return g_boxes; }

void ScriptMessageBoxAnswers(const std::vector<int>& answers) { g_answers.assign(answers.begin(), answers.end()); }

void SetMessageBoxHandler(std::function<int(const MessageBoxRecord&)> handler) { g_handler = std::move(handler); }

}  // namespace scripted

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  scripted::MessageBoxRecord record{owner, text ? text : "", caption ? caption : "Error", type};
  g_boxes.push_back(record);
  // The handler may itself show boxes or drive the dialog while this box's
  // modal loop would run, so it works on its own copy of the record.
  if (g_handler) {
    // While it is open the box is a top-level dialog-class window with its
    // caption, which another copy of the updater may find.
    HWND box = scripted::DeclareWindow("#32770", record.caption);
    int answer = g_handler(record);
    scripted::RemoveWindow(box);
    if (answer != 0) return answer;
  }
  if (g_answers.empty()) return IDOK;
  int answer = g_answers.front();
  g_answers.pop_front();
  return answer;
}
