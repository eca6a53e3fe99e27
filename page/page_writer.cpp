#include "page/page.h"

#include <stdio.h>

#include "cgi/response.h"
#include "page_texts.h"

static void put(const page_text& text) { fwrite(text.bytes, 1, text.size, stdout); }

int mode_html(int embedded) {
    write_text(HTML_HEADER_BLOCK);
    // Head: document start, theme bootstrap, the one style element, theme bridge.
    put(TEXT_HEAD_START);
    put(TEXT_THEME_BOOT);
    put(TEXT_STYLE_START);
    put(TEXT_THEME_CSS);
    put(TEXT_DASHBOARD_CSS);
    put(TEXT_HEAD_END);
    put(TEXT_THEME_BRIDGE);
    put(TEXT_BODY_START);
    // Inside a host frame the host shows its own way back.
    if (!embedded) put(TEXT_BACK_LINK);
    put(TEXT_HEADER_BAR);
    put(TEXT_CARD_SYSTEM);
    put(TEXT_CARD_CPU);
    put(TEXT_CARD_CORES);
    put(TEXT_CARD_MEMORY);
    put(TEXT_CARD_PROCESSES);
    put(TEXT_CARD_ABOUT);
    put(TEXT_CLIENT_START);
    put(TEXT_CLIENT_JS);
    put(TEXT_PAGE_END);
    return 0;
}
