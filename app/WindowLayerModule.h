#pragma once

#include <memory>

#include "app/AdminOptions.h"
#include "app/WindowLayer.h"
#include "text/String.h"

// The Cocoa window layer and the toolkit under it live in a shared module
// that the program loads only when it is going to show a window, so that
// the runs without one (quiet mode, the dry run, help, silent mode without a
// display) never map the toolkit's libraries.

// The module's file name; it lies in the executable's own directory.
constexpr char kWindowLayerModuleName[] = "libqa_cocoa.so";
// Its one entry point: an extern "C" function with no arguments that returns
// a new layer the caller owns, or null when no window server can be reached.
constexpr char kWindowLayerFactoryName[] = "qa_create_cocoa_window_layer";
using WindowLayerFactory = WindowLayer* (*)();

enum class WindowLayerChoice {
    Headless,  // no window can be wanted, or there is no display to show one
    Module,    // load the module and let it open the display
};

// Headless for the options that show no window (AdminOptions::WithoutWindows)
// and when display, the value of DISPLAY, is null or empty or canOpen says
// it does not open; else Module. canOpen is asked only when a window may be
// wanted: the runs without one never touch the display.
WindowLayerChoice ChooseWindowLayer(const AdminOptions& options, const char* display,
                                    bool (*canOpen)(const char* display));

// True when an X display of that name opens (and is closed again), tried
// with Xlib alone, loaded by its shared-object name as the toolkit would
// load it, so that a run that finds no display never maps the toolkit.
// False when Xlib is not installed. Xlib stays loaded.
bool CanOpenXDisplay(const char* display);

// The module's path beside the executable at executablePath (absolute, as
// /proc/self/exe gives it); empty when executablePath holds no "/".
stdx::string WindowLayerModulePath(const stdx::string& executablePath);

// Loads the module at path (which must be a regular file, not a link) and
// returns the layer its factory makes. On failure returns null and sets
// *error to one line saying what is wrong (missing, not a file, not
// loadable, no factory); when the factory itself returns null (no window
// server), returns null and leaves *error empty. The module is never
// unloaded: the layer's code and the toolkit's classes stay in use until the
// process ends.
std::unique_ptr<WindowLayer> LoadWindowLayerModule(const stdx::string& path, stdx::string* error);
