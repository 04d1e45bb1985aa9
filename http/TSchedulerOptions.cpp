#include "TSchedulerOptions.h"

std::string TSchedulerOptions::DefaultUserAgent() {
    return "Marrowby/" MARROWBY_VERSION " (+" MARROWBY_HOMEPAGE ")";
}
