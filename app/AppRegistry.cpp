#include "app/AppRegistry.h"

AppRegistryTable AppRegistry;
