//! A word counter over files, with a small cache of the results.
use std::collections::HashMap;
use std::fmt;
use std::fs;
use std::io::{self, BufRead};
use std::path::{Path, PathBuf};

#[derive(Debug, Clone, PartialEq, Eq)]
pub enum CountError {
    Io(String),
    Empty(PathBuf),
}

impl fmt::Display for CountError {
    fn fmt(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
        match self {
            CountError::Io(message) => write!(f, "cannot read: {}", message),
            CountError::Empty(path) => write!(f, "{} is empty", path.display()),
        }
    }
}

impl From<io::Error> for CountError {
    fn from(e: io::Error) -> Self {
        CountError::Io(e.to_string())
    }
}

#[derive(Default)]
pub struct Counter<'a> {
    cache: HashMap<&'a Path, usize>,
    pub stop_words: Vec<&'static str>,
}

impl<'a> Counter<'a> {
    pub fn new(stop_words: &[&'static str]) -> Self {
        Counter { cache: HashMap::new(), stop_words: stop_words.to_vec() }
    }

    pub fn count(&mut self, path: &'a Path) -> Result<usize, CountError> {
        if let Some(&n) = self.cache.get(path) {
            return Ok(n);
        }
        let file = fs::File::open(path)?;
        let mut total = 0usize;
        for line in io::BufReader::new(file).lines() {
            let line = line?;
            total += line
                .split_whitespace()
                .filter(|w| !self.stop_words.contains(w))
                .count();
        }
        if total == 0 {
            return Err(CountError::Empty(path.to_path_buf()));
        }
        self.cache.insert(path, total);
        Ok(total)
    }
}

fn largest<T: PartialOrd + Copy>(items: &[T]) -> Option<T> {
    let mut best = *items.first()?;
    for &item in items.iter().skip(1) {
        if item > best {
            best = item;
        }
    }
    Some(best)
}

fn main() {
    let paths: Vec<PathBuf> = std::env::args().skip(1).map(PathBuf::from).collect();
    let mut counter = Counter::new(&["a", "an", "the"]);
    let mut counts = Vec::with_capacity(paths.len());
    for path in &paths {
        match counter.count(path) {
            Ok(n) => counts.push(n),
            Err(e) => eprintln!("{}: {}", path.display(), e),
        }
    }
    const LIMIT: usize = 1_000_000;
    let most = largest(&counts).unwrap_or(0);
    println!("{} files, largest {} words{}", counts.len(), most, if most > LIMIT { " (long)" } else { "" });
}

#[cfg(test)]
mod tests {
    use super::*;

    #[test]
    fn largest_of_none_is_none() {
        assert_eq!(largest::<u32>(&[]), None);
        assert_eq!(largest(&[3, 9, 2]), Some(9));
    }
}
