// replaced by the value store core
