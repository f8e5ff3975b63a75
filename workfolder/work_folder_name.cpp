// Naming of work folders.
