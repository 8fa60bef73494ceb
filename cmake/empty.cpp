// The shared library has no sources of its own: it is the core and the load trigger, linked whole.
