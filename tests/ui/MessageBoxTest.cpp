// One real modal box, shown and closed by a timer; a watchdog makes sure nothing can hang.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include "MessageBoxes.h"

namespace kestrove::testing {
namespace {

TEST(MessageBoxes, StylesPickTheIcon) {
    EXPECT_EQ(IconForStyle(BoxStyle::Plain), QMessageBox::NoIcon);
    EXPECT_EQ(IconForStyle(BoxStyle::Information), QMessageBox::Information);
    EXPECT_EQ(IconForStyle(BoxStyle::Warning), QMessageBox::Critical);
}

TEST(MessageBoxes, RealBoxIsModalAndClosesWithOk) {
    QString seenText, seenTitle;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    int buttons = -1;
    bool wasModal = false;
    bool watchdogFired = false;

    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        closer.stop();
        seenText = box->text();
        seenTitle = box->windowTitle();
        seenIcon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        wasModal = box->isModal();
        box->button(QMessageBox::Ok)->click();
    });
    closer.start();
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        watchdogFired = true;
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
    });
    watchdog.start(10000);

    QtMessageBoxes boxes;
    boxes.Show(nullptr, QStringLiteral("加密时Permission denied"), QStringLiteral("提示信息"),
               BoxStyle::Information);

    EXPECT_FALSE(watchdogFired);
    EXPECT_EQ(seenText, QStringLiteral("加密时Permission denied"));
    EXPECT_EQ(seenTitle, QStringLiteral("提示信息"));
    EXPECT_EQ(seenIcon, QMessageBox::Information);
    EXPECT_EQ(buttons, 1);
    EXPECT_TRUE(wasModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace kestrove::testing
