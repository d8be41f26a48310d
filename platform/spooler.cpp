// spooler area of the platform layer.
