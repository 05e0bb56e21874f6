#include "core/AppState.h"

AppState &app()
{
    static AppState state;
    return state;
}
