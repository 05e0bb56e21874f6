#include "shell/AppState.h"

AppState &app()
{
    static AppState state;
    return state;
}
