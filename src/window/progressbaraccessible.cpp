// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/progressbaraccessible.h"

#include <cmath>

#include "window/progressbar.h"

ProgressBarAccessible::ProgressBarAccessible(ProgressBar* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

const ProgressBar* ProgressBarAccessible::bar() const
{
    return static_cast<const ProgressBar*>(widget());
}

void* ProgressBarAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString ProgressBarAccessible::text(QAccessible::Text kind) const
{
    // Read out as the share drawn filled.
    if (kind == QAccessible::Value)
        return QStringLiteral("%1%").arg(std::lround(bar()->filledFraction() * 100.0));
    return QAccessibleWidget::text(kind);
}

QVariant ProgressBarAccessible::currentValue() const
{
    return static_cast<double>(bar()->value());
}

void ProgressBarAccessible::setCurrentValue(const QVariant& /*value*/)
{
    // Only the player moves the bar.
}

QVariant ProgressBarAccessible::maximumValue() const
{
    return static_cast<double>(bar()->maximum());
}

QVariant ProgressBarAccessible::minimumValue() const
{
    return static_cast<double>(bar()->minimum());
}

QVariant ProgressBarAccessible::minimumStepSize() const
{
    return 0.0;
}

QAccessibleInterface* ProgressBarAccessible::create(const QString& className, QObject* object)
{
    auto* bar = qobject_cast<ProgressBar*>(object);
    if (className != QLatin1String("ProgressBar") || bar == nullptr)
        return nullptr;
    return new ProgressBarAccessible(bar);
}
