#include "app/app_context.h"

#include "app/dialogs.h"
#include "app/system_desktop.h"
#include "pipeline/task_processor.h"
#include "platform/notifications.h"
#include "platform/preferences.h"
#include "service/network_service.h"
#include "service/user_session.h"
#include "store/database_manager.h"
#include "store/user_manager.h"

namespace quillora {

AppContext AppContext::withSharedServices(Dialogs& dialogs, std::function<void()> startPoller,
                                          std::string platformAddress) {
    static SystemDesktop desktop;
    return AppContext{
        DatabaseManager::shared(),
        UserManager::shared(),
        NetworkService::shared(),
        Preferences::shared(),
        NotificationCenter::shared(),
        UserAuthManager::shared(),
        desktop,
        dialogs,
        TaskProcessor::shared(),
        std::move(startPoller),
        std::move(platformAddress),
    };
}

AppContext& AppContext::shared() {
    static SystemDialogs dialogs;
    static AppContext context = withSharedServices(
        dialogs, [] { NetworkService::shared().startNewlyOrdersTimer(); },
        NetworkService::shared().endpoints().apiBaseURL);
    return context;
}

}  // namespace quillora
