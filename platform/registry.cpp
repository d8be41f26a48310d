// registry area of the platform layer.
