#pragma once
// "Yield" of the exam's handlers: run every pending window event once, then go on.
namespace brevik {
void yieldEvents();
}
