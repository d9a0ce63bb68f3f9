// The entry: start-up, then one key at a time to the dispatcher of the mode.
#include "morvane.h"

int main(int argc, char** argv) {
    start_editor(argc, argv);
    for (;;) {
        int key = read_key();
        if (Globals.mode == MODE_TEXT)
            text_mode_key(key);
        else if (Globals.mode == MODE_HEX)
            hex_mode_key(key);
    }
}
