#include "minidriver/md/ModuleVersion.h"

VELK_DEFINE_MODULE_VERSION();
