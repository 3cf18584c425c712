// Keeps a helper library valid when a folder has no helpers of its own.
