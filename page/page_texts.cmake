# The page's source texts, in the order the page writes them: name, how the file becomes text,
# and the file. "text": the file's bytes less one final line feed (so a file whose page text
# ends in a line feed holds two). "lines": every line feed and the indentation after it are
# dropped, for stylesheets and scripts kept one rule or statement per line.
set(PAGE_TEXTS
  HEAD_START     text  markup/head_start.html
  THEME_BOOT     lines theme_boot.js
  STYLE_START    text  markup/style_start.html
  THEME_CSS      lines theme.css
  DASHBOARD_CSS  lines dashboard.css
  HEAD_END       text  markup/head_end.html
  THEME_BRIDGE   lines theme_bridge.js
  BODY_START     text  markup/body_start.html
  BACK_LINK      text  markup/back_link.html
  HEADER_BAR     text  markup/header_bar.html
  CARD_SYSTEM    text  markup/card_system.html
  CARD_CPU       text  markup/card_cpu_history.html
  CARD_CORES     text  markup/card_cores.html
  CARD_MEMORY    text  markup/card_memory.html
  CARD_PROCESSES text  markup/card_processes.html
  CARD_ABOUT     text  markup/card_about.html
  CLIENT_START   text  markup/client_start.html
  CLIENT_JS      text  client.js
  PAGE_END       text  markup/page_end.html
)
