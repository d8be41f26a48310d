// user area of the platform layer.
