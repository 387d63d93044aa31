// Package queue runs jobs on a fixed number of workers and gathers results.
package queue

import (
	"context"
	"errors"
	"fmt"
	"sort"
	"sync"
	"time"
)

// ErrClosed is returned when a job is added after Close.
var ErrClosed = errors.New("queue: closed")

const defaultWorkers = 4

type Job struct {
	ID       int
	Name     string
	Duration time.Duration
}

type Result struct {
	Job   Job
	Took  time.Duration
	Error error
}

type Queue struct {
	mu      sync.Mutex
	jobs    chan Job
	results []Result
	closed  bool
	wg      sync.WaitGroup
}

func New(ctx context.Context, workers int) *Queue {
	if workers <= 0 {
		workers = defaultWorkers
	}
	q := &Queue{jobs: make(chan Job, workers*2)}
	for i := 0; i < workers; i++ {
		q.wg.Add(1)
		go q.work(ctx, i)
	}
	return q
}

func (q *Queue) work(ctx context.Context, id int) {
	defer q.wg.Done()
	for job := range q.jobs {
		start := time.Now()
		var err error
		select {
		case <-ctx.Done():
			err = ctx.Err()
		case <-time.After(job.Duration):
		}
		q.mu.Lock()
		q.results = append(q.results, Result{Job: job, Took: time.Since(start), Error: err})
		q.mu.Unlock()
	}
	_ = id
}

func (q *Queue) Add(job Job) error {
	q.mu.Lock()
	defer q.mu.Unlock()
	if q.closed {
		return fmt.Errorf("adding %q: %w", job.Name, ErrClosed)
	}
	q.jobs <- job
	return nil
}

func (q *Queue) Close() []Result {
	q.mu.Lock()
	q.closed = true
	close(q.jobs)
	q.mu.Unlock()
	q.wg.Wait()
	sort.Slice(q.results, func(i, j int) bool { return q.results[i].Job.ID < q.results[j].Job.ID })
	return q.results
}

func Summary(results []Result) (total time.Duration, failed map[string]error) {
	failed = map[string]error{}
	for _, r := range results {
		total += r.Took
		if r.Error != nil {
			failed[r.Job.Name] = r.Error
		}
	}
	return total, failed
}
