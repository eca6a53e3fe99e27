// Entry of the plugin; the whole run is handle_request.
#include "frontend/request.h"

int main(int argc, char** argv) { return handle_request(argc, argv); }
