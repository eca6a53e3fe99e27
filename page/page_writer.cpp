#include "page/page.h"

#include "frontend/response.h"

// Placeholder until the page lands.
int mode_html(int embedded) {
    write_text(HTML_HEADER_BLOCK);
    if (!embedded) write_text("<div class='top'><a href='/'>");
    return 0;
}
