// CLink: being written.
