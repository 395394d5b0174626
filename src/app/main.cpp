#include "app/state.h"
#include "app/window_gl.h"

int main(int argc, char** argv) {
    if (startUp(argc, argv) != 0) {
        return 0;  // the score could not be loaded; the reader has said why
    }
    runWindow(argc, argv);
    return 0;
}
