// The appended payload format.
