#pragma once
// A modal window a test opens: the click or menu entry that opens it blocks
// in the window's exec() until the test, polling from inside that loop,
// answers it.
#include <QString>
#include <functional>

class QWidget;

namespace TestSupport {

// Runs action and hands the first modal window it opens to answer, which
// closes it; when none opens within timeoutMs, answer is not called.
// Returns whether one opened.
bool answerModal(const std::function<void()> &action, const std::function<void(QWidget *)> &answer,
    int timeoutMs = 10000);
// answerModal closing a message box or rejecting a dialog: the box's text or
// the dialog's title, empty when none opened.
QString dismissModal(const std::function<void()> &action);

} // namespace TestSupport
