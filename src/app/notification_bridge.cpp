#include "app/notification_bridge.h"

#include <QMetaObject>

#include "service/user_session.h"

namespace quillora {

NotificationBridge::NotificationBridge(NotificationCenter& center, QObject* parent)
    : QObject(parent), center_(center) {
    const auto forward = [this](const char* name, auto emitter) {
        tokens_.push_back(center_.subscribe(name, [this, emitter](const auto& payload) {
            QMetaObject::invokeMethod(
                this, [this, emitter, payload] { emitter(this, payload); }, Qt::QueuedConnection);
        }));
    };
    forward(notification::kTaskUpdated, [](NotificationBridge* self, const auto& payload) {
        if (payload.is_object() && payload.contains("id") && payload.contains("progress") &&
            payload["id"].is_number_integer() && payload["progress"].is_number()) {
            emit self->taskProgress(payload["id"].template get<qint64>(),
                                    payload["progress"].template get<double>());
        } else {
            emit self->taskUpdated();
        }
    });
    forward(notification::kDatabaseUpdated,
            [](NotificationBridge* self, const auto&) { emit self->databaseUpdated(); });
    forward(notification::kUserDidLogin, [](NotificationBridge* self, const auto& payload) {
        if (payload.is_string()) {
            emit self->userDidLogin(QString::fromStdString(payload.template get<std::string>()));
        }
    });
    forward(notification::kUserDidLogout,
            [](NotificationBridge* self, const auto&) { emit self->userDidLogout(); });
}

NotificationBridge::~NotificationBridge() {
    for (const auto token : tokens_)
        center_.unsubscribe(token);
    if (auth_) auth_->setOnChange({});
}

void NotificationBridge::watch(UserAuthManager& auth) {
    auth_ = &auth;
    auth.setOnChange([this] {
        QMetaObject::invokeMethod(
            this, [this] { emit authChanged(); }, Qt::QueuedConnection);
    });
}

}  // namespace quillora
