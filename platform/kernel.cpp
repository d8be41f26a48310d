// kernel area of the platform layer.
