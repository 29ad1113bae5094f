// Qt is not built with ThreadSanitizer, so the hand-offs inside its own image thread pool (used
// when the dialog paints) look like races. Our code has no frames in these libraries, so a race
// of ours is still reported. Only a ThreadSanitizer build reads this function.
extern "C" const char *__tsan_default_suppressions();
extern "C" const char *__tsan_default_suppressions() {
    return "race:libQt6Gui.so\n"
           "race:libQt6Core.so\n";
}
