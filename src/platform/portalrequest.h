// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <utility>

#include <QObject>
#include <QVariantMap>

// Waits for one portal request's Response signal (u response, a{sv}
// results), hands it on, then goes.
class PortalRequest : public QObject {
    Q_OBJECT
public:
    PortalRequest(std::function<void(uint, const QVariantMap&)> answered, QObject* parent)
        : QObject(parent), answered_(std::move(answered))
    {
    }

public slots:
    void Response(uint response, const QVariantMap& results)
    {
        deleteLater();
        answered_(response, results);
    }

private:
    std::function<void(uint, const QVariantMap&)> answered_;
};
