// resources area of the platform layer.
