// loader area of the platform layer.
