// Splash window geometry.
