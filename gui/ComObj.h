// The component object library for the GUI thread: initialised single-threaded by a start-up step of the
// application, and uninitialised by its shutdown after every form and control is gone. Including this header
// registers both steps (once per program).
#pragma once

// Registers the two steps; later calls do nothing.
void RegisterComObjSteps();

// Whether the start-up step has initialised the library on this thread.
bool ComObjInitialized();

inline const bool kComObjStepsRegistered = (RegisterComObjSteps(), true);
