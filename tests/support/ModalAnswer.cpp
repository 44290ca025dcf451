#include "support/ModalAnswer.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

namespace TestSupport {

bool answerModal(const std::function<void()> &action, const std::function<void(QWidget *)> &answer,
    int timeoutMs)
{
    bool opened = false;
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal && waited.elapsed() < timeoutMs)
            return;
        poll.stop(); // a window came, or none will: the action returns by itself
        if (modal) {
            opened = true;
            answer(modal);
        }
    });
    poll.start(10);
    action();
    poll.stop();
    return opened;
}

QString dismissModal(const std::function<void()> &action)
{
    QString text;
    answerModal(action, [&](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            text = box->text();
            box->close();
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            text = dialog->windowTitle();
            dialog->reject();
        }
    });
    return text;
}

} // namespace TestSupport
