// The object the shared precompiled GoogleTest header of the test programs is
// built with; it holds nothing of its own.
