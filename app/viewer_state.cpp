#include "app/viewer_state.h"

ViewerState viewer;
