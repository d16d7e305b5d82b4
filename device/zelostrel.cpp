// The device class zelostrel.
