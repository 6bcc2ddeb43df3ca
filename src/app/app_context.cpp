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

AppContext& AppContext::shared() {
    static SystemDesktop desktop;
    static SystemDialogs dialogs;
    static AppContext context{
        DatabaseManager::shared(),
        UserManager::shared(),
        NetworkService::shared(),
        Preferences::shared(),
        NotificationCenter::shared(),
        UserAuthManager::shared(),
        desktop,
        dialogs,
        TaskProcessor::shared(),
        [] { NetworkService::shared().startNewlyOrdersTimer(); },
        NetworkService::shared().endpoints().apiBaseURL,
    };
    return context;
}

}  // namespace quillora
