// Entry of the plugin; the whole run is handle_request.
#include "frontend/request.h"
#include "cgi/stdout_mode.h"

int main(int argc, char** argv) {
    prepare_stdout();
    return handle_request(argc, argv);
}
