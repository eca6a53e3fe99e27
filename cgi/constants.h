#pragma once

// Fixed identity of the plugin, shared by the entry, the documents and the page.
#define PLUGIN_ID "plugin_ravlen"
// PLUGIN_VERSION comes from the build: the version of the top-level CMake project.
#ifndef PLUGIN_VERSION
#error "PLUGIN_VERSION is defined by the build (project VERSION in CMakeLists.txt)"
#endif
#define DEFAULT_TOP 25
