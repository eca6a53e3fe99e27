#pragma once

// Fixed identity of the plugin, shared by the entry, the documents and the page.
#define PLUGIN_ID "plugin_ravlen"
#define PLUGIN_VERSION "1.0.1"
#define DEFAULT_TOP 25
