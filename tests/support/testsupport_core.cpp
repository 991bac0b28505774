// Shared test helpers that need no window.
