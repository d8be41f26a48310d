// Shared fixtures of the test programs.
