// strings area of the platform layer.
