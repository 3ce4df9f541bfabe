// The dialogs' language, from the locale that governs messages.
#include "dialogs/widgets/Texts.h"

#include <cstdlib>
#include <cstring>

namespace zelvik::dialogs {

bool LocaleIsJapanese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return std::strncmp(value, "ja", 2) == 0;
    }
    return false;
}

}  // namespace zelvik::dialogs
