// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAccessibleWidget>

class ProgressBar;

// What assistive technology sees of the progress bar: a progress bar whose
// value, minimum and maximum are those the window set, read only.
class ProgressBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressBarAccessible(ProgressBar* bar);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text kind) const override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant& value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

    // For QAccessible::installFactory: the interface of a ProgressBar.
    static QAccessibleInterface* create(const QString& className, QObject* object);

private:
    const ProgressBar* bar() const;
};
