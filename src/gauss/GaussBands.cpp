// Gaussian band math lands here.
