// SPDX-License-Identifier: GPL-3.0-or-later
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <gtest/gtest.h>

#include "fakeengine.h"
#include "window/form1.h"
#include "window/progressbar.h"

namespace {

QString accessibleText(QObject* object, QAccessible::Text kind)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface != nullptr ? iface->text(kind) : QString();
}

TEST(Accessibility, TheBarIsAProgressBarWhoseValueAndRangeCanBeRead)
{
    ProgressBar bar;
    bar.resize(393, 17);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&bar);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::ProgressBar);
    QAccessibleValueInterface* value = iface->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->minimumValue().toDouble(), 0.0);
    EXPECT_EQ(value->maximumValue().toDouble(), 100.0);
    EXPECT_EQ(value->currentValue().toDouble(), 0.0);

    // As the window sets them: the length in seconds, then the position.
    bar.setMaximum(240.5F);
    bar.setValue(60.125F);
    EXPECT_EQ(value->maximumValue().toDouble(), 240.5);
    EXPECT_EQ(value->currentValue().toDouble(), 60.125);
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("25%"));

    // A reader cannot move it.
    value->setCurrentValue(10.0);
    EXPECT_EQ(bar.value(), 60.125F);

    // A value beyond the range is read as it is, and the share as drawn.
    bar.setValue(300.0F);
    EXPECT_EQ(value->currentValue().toDouble(), 300.0);
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("100%"));
}

TEST(Accessibility, EveryControlOfTheWindowHasAName)
{
    Form1 window(new FakeEngine);
    const struct {
        const char* control;
        QString name;
    } controls[] = {
        {"Command1", QStringLiteral("play")},
        {"Command2", QStringLiteral("pause")},
        {"Command3", QStringLiteral("stop")},
        {"Command4", QStringLiteral("load")},
        {"Label1", QStringLiteral("Drop MP3 HERE")},
        {"Text1", QStringLiteral("File path")},
        {"ProgressBar1", QStringLiteral("Playing position")},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.control);
        auto* widget = window.findChild<QWidget*>(QLatin1String(c.control));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(accessibleText(widget, QAccessible::Name), c.name);
    }
    auto* bar = window.findChild<ProgressBar*>(QStringLiteral("ProgressBar1"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(bar)->role(), QAccessible::ProgressBar);
}

} // namespace
