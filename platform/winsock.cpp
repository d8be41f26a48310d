// winsock area of the platform layer.
