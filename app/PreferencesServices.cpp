#include "app/PreferencesServices.h"

// The interface's meta-object code is generated beside this file.
