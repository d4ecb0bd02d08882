#include "core/AppRegistry.h"

AppRegistryTable AppRegistry;
