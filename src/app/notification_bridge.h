#pragma once

#include <QObject>
#include <QString>
#include <vector>

#include "platform/notifications.h"

namespace quillora {

class UserAuthManager;

/// Re-posts the core's notifications, which may come from any thread, as signals on the GUI
/// thread; also the changes of the shared sign-in state.
class NotificationBridge : public QObject {
    Q_OBJECT
  public:
    NotificationBridge(NotificationCenter& center, QObject* parent = nullptr);
    ~NotificationBridge() override;

    /// Follows the shared session's changes with authChanged().
    void watch(UserAuthManager& auth);

  signals:
    /// A status write, or a progress write whose row is not named.
    void taskUpdated();
    /// A progress write of one record, with the fraction written.
    void taskProgress(qint64 id, double progress);
    void databaseUpdated();
    void userDidLogin(const QString& user);
    void userDidLogout();
    void authChanged();

  private:
    NotificationCenter& center_;
    std::vector<NotificationCenter::Token> tokens_;
    UserAuthManager* auth_ = nullptr;
};

}  // namespace quillora
