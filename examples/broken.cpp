// A file with an error, for the example of --verbose in the README.
int broken_fn() { return undefined_x; }
